// What every fake COM object of the tests shares: one call log, one way to
// make a call fail, and reference counting.
//
// A Session is the log and the failures of one test (one Session at a
// time). Every fake is created when an entry point or a method hands it
// out, with one reference, the caller's; AddRef adds one and Release takes
// one. Nothing is freed when the count reaches zero, and a count below zero
// stays visible, so a test can read every count after the program let go.
//
// Every call goes into the log in order as "object.Method(arguments)", or
// "EntryPoint(arguments)", with " -> 0x8876086C" appended when it failed.
// Methods the program is not expected to use are logged with "(?)" and
// answer E_NOTIMPL, so an unplanned call shows up.
//
// Failures are injected by the call's name without its arguments:
// session.failures.Fail("device.Present", D3DERR_DEVICELOST, 2) fails the
// next two presents.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace fakes {

std::string Hex(unsigned long long value); // "0x1e"

class CallLog {
public:
    // Runs right after each call is logged, while the caller is still inside
    // it: for looking at the program's state at that moment.
    using Observer = std::function<void(const std::string& call)>;

    void Add(std::string call);
    void SetObserver(Observer observer) { observer_ = std::move(observer); }
    const std::vector<std::string>& Calls() const { return calls_; }
    // The calls whose text starts with `prefix`, e.g. "device.Reset".
    std::vector<std::string> Matching(const std::string& prefix) const;
    // The calls logged since `mark`, a size of Calls() taken earlier.
    std::vector<std::string> Since(size_t mark) const;
    // The same by name only, "object.Method", for checking order.
    std::vector<std::string> Names(size_t mark = 0) const;
    void Clear() { calls_.clear(); }

private:
    std::vector<std::string> calls_;
    Observer observer_;
};

// "name(arguments)" of a logged call becomes "name": what Failures keys on.
std::string CallName(const std::string& call);
bool CallFailed(const std::string& call);

class Failures {
public:
    static constexpr int kAlways = -1;

    void Fail(const std::string& call, HRESULT result, int times = kAlways);
    void Stop(const std::string& call) { entries_.erase(call); }
    // The injected failure of this call, used up by one; S_OK when none.
    HRESULT Next(const std::string& call);

private:
    struct Entry {
        HRESULT result;
        int remaining;
    };
    std::map<std::string, Entry> entries_;
};

class FakeObject;

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The Session of the running test; ends the test program when there is
    // none, since an entry point then has nothing sensible to hand out.
    static Session& Current(const char* caller);

    CallLog log;
    Failures failures;

    // Logs an entry point's call, marked when it failed.
    void LogEntryPoint(const std::string& call, HRESULT result);

    // Every fake handed out in this session, oldest first.
    const std::vector<FakeObject*>& Objects() const { return objects_; }
    // "name refs" of each fake whose count is not zero.
    std::vector<std::string> Unreleased() const;

private:
    friend class FakeObject;
    std::vector<FakeObject*> objects_;
};

class FakeObject {
public:
    FakeObject(Session& session, std::string name);
    virtual ~FakeObject();
    FakeObject(const FakeObject&) = delete;
    FakeObject& operator=(const FakeObject&) = delete;

    const std::string& Name() const { return name_; }
    LONG Refs() const { return refs_; }

protected:
    ULONG DoAddRef();
    ULONG DoRelease();
    // Logs the call and returns the injected failure for it, if any.
    HRESULT Call(const std::string& method, const std::string& arguments);
    void Log(const std::string& method, const std::string& arguments, HRESULT result);
    template <typename Result>
    Result Unexpected(const char* method)
    {
        Log(method, "?", S_OK);
        if constexpr (std::is_void_v<Result>)
            return;
        else if constexpr (std::is_same_v<Result, HRESULT>)
            return E_NOTIMPL;
        else
            return Result{};
    }

    Session& session_;

private:
    std::string name_;
    LONG refs_ = 1;
};

// The fakes of one DirectX family (Direct3D, DirectInput, DirectSound)
// that its entry points hand out: one set of them alive at a time.
template <typename Family>
class CurrentFamily {
public:
    static Family* Current() { return current_; }
    // The current set, for its entry points: without one they have nothing
    // sensible to hand out, and the test program stops.
    static Family& Active(const char* entryPoint)
    {
        if (current_ == nullptr) {
            std::fprintf(stderr, "%s called without its fakes in place\n", entryPoint);
            std::abort();
        }
        return *current_;
    }

protected:
    CurrentFamily()
    {
        if (current_ != nullptr) {
            std::fprintf(stderr, "two sets of the same fakes alive at once\n");
            std::abort();
        }
        current_ = static_cast<Family*>(this);
    }
    ~CurrentFamily() { current_ = nullptr; }

private:
    static inline Family* current_ = nullptr;
};

// The fakes of one kind handed out so far, oldest first, alive until the
// test ends so that it can look at them after the program let go.
template <typename Fake>
class HandedOut {
public:
    template <typename... Arguments>
    Fake* Add(Arguments&&... arguments)
    {
        fakes_.push_back(std::make_unique<Fake>(std::forward<Arguments>(arguments)...));
        return fakes_.back().get();
    }
    // The last one, or null.
    Fake* Last() const { return fakes_.empty() ? nullptr : fakes_.back().get(); }
    size_t Count() const { return fakes_.size(); }

private:
    std::vector<std::unique_ptr<Fake>> fakes_;
};

} // namespace fakes

// A method the program is not expected to call, declared and defined from
// one list per interface.
#define FAKES_DECLARE(result, method, parameters) result STDMETHODCALLTYPE method parameters override;
#define FAKES_DEFINE(fake, result, method, parameters) \
    result STDMETHODCALLTYPE fake::method parameters { return Unexpected<result>(#method); }
