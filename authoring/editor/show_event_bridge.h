// The show's events carried to the pages: the control surface's listener only queues (the
// show's main loop never waits on a page or a write), and a thread of the bridge's own takes
// the queue, looks at the disk when the show reloaded the source, and publishes the session's
// state and the player's to every page. Knows nothing of HTTP.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "authoring/control/dev_control.h"

class cEditorSession;
class cEventHub;

class cShowEventBridge {
public:
    cShowEventBridge(iDevControl& dev, cEditorSession& session, cEventHub& hub)
        : dev_(dev), session_(session), hub_(hub) {}
    ~cShowEventBridge() { stop(); }
    cShowEventBridge(const cShowEventBridge&) = delete;
    cShowEventBridge& operator=(const cShowEventBridge&) = delete;

    // Subscribes to the show, takes over the session's state listener and starts the thread.
    void start();
    // No listener of the show is called after it returns, the session publishes its changes
    // itself again, and the thread is woken and joined. Nothing here waits on a client.
    void stop();

private:
    void run();
    // One turn of the thread, with the queue's lock released.
    void forward(const std::deque<cDevEvent>& events, bool state_pending);

    iDevControl& dev_;
    cEditorSession& session_;
    cEventHub& hub_;
    std::thread thread_;
    int subscription_ = 0;
    bool subscribed_ = false;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<cDevEvent> events_;
    bool state_pending_ = false;
    bool stop_ = false;
    std::chrono::steady_clock::time_point next_player_;  // the thread's own
};
