// Test support shared by every test program: running a call inside a host
// error trap, leak checks against the host's live counts, and capture of
// the host's output.
#pragma once

#include "ka.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

// Runs fn(arg) inside a host error trap. Answers 1 when a host error was
// raised (its message then in *message), else 0.
int RunTrapped(void (*fn)(void *), void *arg, std::string *message);

// Runs f() inside a host error trap and answers the raised message, or
// nothing when f returned normally. A raised error jumps over f's own
// frames without running destructors: f must not own anything that needs
// one (no strings, vectors or guards of its own).
template <class F>
std::optional<std::string> RaisedBy(F &&f) {
    std::string message;
    auto thunk = [](void *p) { (*static_cast<F *>(p))(); };
    if (RunTrapped(thunk, &f, &message)) return message;
    return std::nullopt;
}

// Fixture base: every test ends with as many live host arrays and blocks as
// it started with, and no destroy or free of something not live.
class HostLeakCheck : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    int arrays_ = 0;
    int blocks_ = 0;
    int badReleases_ = 0;
};

// Collects what the host prints (plxPrintf, ytPrintf) while it lives.
class HostOutputCapture {
public:
    HostOutputCapture();
    ~HostOutputCapture();
    HostOutputCapture(const HostOutputCapture &) = delete;
    HostOutputCapture &operator=(const HostOutputCapture &) = delete;
    const std::string &text() const { return text_; }

private:
    static void Append(const char *text, size_t length, void *self);
    std::string text_;
};

// Owns one host array for a test.
class HostArray {
public:
    explicit HostArray(kaArray *a = nullptr) : a_(a) {}
    ~HostArray() { kaDestroyArray(a_); }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;
    HostArray(HostArray &&o) noexcept : a_(o.release()) {}
    kaArray *get() const { return a_; }
    kaArray **slot() { return &a_; }
    kaArray *release() {
        kaArray *a = a_;
        a_ = nullptr;
        return a;
    }
    void reset(kaArray *a = nullptr) {
        kaDestroyArray(a_);
        a_ = a;
    }
    operator kaArray *() const { return a_; }

private:
    kaArray *a_;
};
