#include "tests/support/fake_com.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/support/hresult.h"

namespace fakes {

namespace {

Session* g_current = nullptr;

const char kFailedMark[] = " -> ";

} // namespace

std::string Hex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llx", value);
    return text;
}

void CallLog::Add(std::string call)
{
    calls_.push_back(std::move(call));
    if (observer_)
        observer_(calls_.back());
}

std::vector<std::string> CallLog::Matching(const std::string& prefix) const
{
    std::vector<std::string> result;
    for (const std::string& call : calls_)
        if (call.compare(0, prefix.size(), prefix) == 0)
            result.push_back(call);
    return result;
}

std::vector<std::string> CallLog::Since(size_t mark) const
{
    return std::vector<std::string>(calls_.begin() + static_cast<std::ptrdiff_t>(std::min(mark, calls_.size())),
                                    calls_.end());
}

std::vector<std::string> CallLog::Names(size_t mark) const
{
    std::vector<std::string> names;
    for (const std::string& call : Since(mark))
        names.push_back(CallName(call));
    return names;
}

std::string CallName(const std::string& call)
{
    return call.substr(0, call.find('('));
}

bool CallFailed(const std::string& call)
{
    return call.find(kFailedMark, call.rfind(')')) != std::string::npos;
}

void Failures::Fail(const std::string& call, HRESULT result, int times)
{
    entries_[call] = Entry{result, times};
}

HRESULT Failures::Next(const std::string& call)
{
    auto entry = entries_.find(call);
    if (entry == entries_.end())
        return S_OK;
    const HRESULT result = entry->second.result;
    if (entry->second.remaining != kAlways && --entry->second.remaining == 0)
        entries_.erase(entry);
    return result;
}

Session::Session()
{
    if (g_current != nullptr) {
        std::fprintf(stderr, "two fakes::Session objects alive at once\n");
        std::abort();
    }
    g_current = this;
}

Session::~Session()
{
    if (g_current == this)
        g_current = nullptr;
}

Session& Session::Current(const char* caller)
{
    if (g_current == nullptr) {
        std::fprintf(stderr, "%s called without a fakes::Session\n", caller);
        std::abort();
    }
    return *g_current;
}

void Session::LogEntryPoint(const std::string& call, HRESULT result)
{
    log.Add(FAILED(result) ? call + kFailedMark + FormatHResult(result) : call);
}

std::vector<std::string> Session::Unreleased() const
{
    std::vector<std::string> names;
    for (const FakeObject* object : objects_)
        if (object->Refs() != 0)
            names.push_back(object->Name() + " " + std::to_string(object->Refs()));
    return names;
}

FakeObject::FakeObject(Session& session, std::string name) : session_(session), name_(std::move(name))
{
    session_.objects_.push_back(this);
}

FakeObject::~FakeObject()
{
    auto& objects = session_.objects_;
    objects.erase(std::remove(objects.begin(), objects.end(), this), objects.end());
}

ULONG FakeObject::DoAddRef()
{
    session_.log.Add(name_ + ".AddRef()");
    return static_cast<ULONG>(++refs_);
}

ULONG FakeObject::DoRelease()
{
    session_.log.Add(name_ + ".Release()");
    return static_cast<ULONG>(--refs_);
}

void FakeObject::Log(const std::string& method, const std::string& arguments, HRESULT result)
{
    std::string call = name_ + "." + method + "(" + arguments + ")";
    if (FAILED(result))
        call += kFailedMark + FormatHResult(result);
    session_.log.Add(std::move(call));
}

HRESULT FakeObject::Call(const std::string& method, const std::string& arguments)
{
    const HRESULT result = session_.failures.Next(name_ + "." + method);
    Log(method, arguments, result);
    return result;
}

} // namespace fakes
