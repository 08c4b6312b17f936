// The render-state store: the state GL was last told, the pending state callers change in place,
// and the stack the host uses to isolate modules. Sends only the fields whose bits changed.
// Depends on the GL entry-point table; must never send a field whose bits did not change.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render_state.h"

class cRenderStateStore {
public:
    // Saved pending words the stack has room for before it grows.
    static constexpr size_t reserved_stack_entries = 100;

    cRenderStateStore();

    // The pending word: what the next apply sends. The address never changes.
    cRenderState* pending() { return &pending_; }
    const cRenderState& applied() const { return applied_; }
    size_t depth() const { return stack_.size(); }

    // Sends the fields that differ between applied and pending, in a fixed order, then
    // remembers pending as applied. A code outside its table throws std::runtime_error naming
    // the field; the fields before it have been sent and applied stays as it was.
    void apply() {
        // Bits 13-15 and 32-63 never reach GL, so the common case is one compare.
        if (((applied_.word[0] ^ pending_.word[0]) & gl_bits_word0) == 0) {
            applied_ = pending_;
            return;
        }
        apply_changes();
    }

    void push() { stack_.push_back(pending_); }
    // Restores the last saved word. With nothing saved the pending word stays and the
    // unbalanced pop is reported on standard error.
    void pop() {
        if (stack_.empty()) {
            report_empty_pop();
            return;
        }
        pending_ = stack_.back();
        stack_.pop_back();
    }

    // Sends the fixed GL settings of the show and the whole initial state. The entry points
    // must be loaded.
    void start_up();

private:
    // Bits of word 0 that carry GL state (0-12 and 16-31).
    static constexpr uint32_t gl_bits_word0 = 0xFFFF1FFFu;

    void apply_changes();
    static void report_empty_pop();

    cRenderState applied_;
    std::vector<cRenderState> stack_;
    cRenderState pending_;
};
