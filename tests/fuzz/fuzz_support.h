// What every fuzz harness shares: a check that reports the broken property and aborts (the
// fuzzer then keeps the input as a finding), and silenced console streams, since the code
// under test reports bad input on standard error and the fuzzer feeds it nothing else.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

#define FUZZ_CHECK(condition, what)                                                         \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s (%s)\n", __FILE__, __LINE__, \
                         what, #condition);                                                 \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

// Swallows everything written to the C++ console streams while alive.
class cQuietConsole {
public:
    cQuietConsole() : out_(std::cout.rdbuf(&sink_)), err_(std::cerr.rdbuf(&sink_)) {}
    ~cQuietConsole() {
        std::cout.rdbuf(out_);
        std::cerr.rdbuf(err_);
    }
    cQuietConsole(const cQuietConsole&) = delete;
    cQuietConsole& operator=(const cQuietConsole&) = delete;

private:
    class cSink : public std::streambuf {
    protected:
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    cSink sink_;
    std::streambuf* out_;
    std::streambuf* err_;
};
