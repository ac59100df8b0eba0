// Small COM objects standing in for WMI's locator, services, enumerator and class object, so the
// Windows session can be driven through every answer WMI may give. Each one counts its
// references: it starts with the one its test holds, and a release below that is recorded.
// Methods the session does not call answer E_NOTIMPL.
#pragma once

// clang-format off
#include <winsock2.h>  // before windows.h, as the POCO headers the tests also include need it
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
// clang-format on

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::fakewbem {

// The session's clock in these tests: milliseconds that only the fakes advance.
inline unsigned long long now = 0;
inline unsigned long long testClock() {
    return now;
}

template <class Interface>
class Counted : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (references <= 1) {
            ++overReleases;  // the test's own reference is never given up
            return 1;
        }
        return static_cast<ULONG>(--references);
    }

    // Only the test's reference is left, and nothing released what it did not own.
    bool balanced() const { return references == 1 && overReleases == 0; }

    long references = 1;
    int overReleases = 0;
};

// An IUnknown that only counts, to see whether a VARIANT holding it was cleared.
class CountedUnknown final : public Counted<IUnknown> {};

class FakeClassObject final : public Counted<IWbemClassObject> {
  public:
    FakeClassObject() = default;
    FakeClassObject(const FakeClassObject&) = delete;
    FakeClassObject& operator=(const FakeClassObject&) = delete;
    ~FakeClassObject() {
        for (auto& property : properties_) {
            VariantClear(&property.second);
        }
    }

    // The value is copied (VariantCopy) into every Get of that name; other names fail.
    FakeClassObject& set(const std::wstring& name, const VARIANT& value) {
        properties_.emplace_back(name, VARIANT{});
        VariantInit(&properties_.back().second);
        VariantCopy(&properties_.back().second, const_cast<VARIANT*>(&value));
        return *this;
    }
    FakeClassObject& text(const std::wstring& name, const wchar_t* value) {
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_BSTR;
        variant.bstrVal = SysAllocString(value);
        set(name, variant);
        VariantClear(&variant);
        return *this;
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override {
        ++gets;
        // WMI overwrites the VARIANT: it must come in empty, and nothing else is asked for.
        if (flags != 0 || value == nullptr || value->vt != VT_EMPTY || type != nullptr ||
            flavor != nullptr) {
            ++badGets;
            return WBEM_E_INVALID_PARAMETER;
        }
        for (auto& property : properties_) {
            if (property.first == name) {
                return VariantCopy(value, &property.second);
            }
        }
        return WBEM_E_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**,
                                        IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*,
                                        IWbemClassObject*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**,
                                         IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

    int gets = 0;
    int badGets = 0;

  private:
    std::vector<std::pair<std::wstring, VARIANT>> properties_;
};

// One answer of Next: its result, the instance it hands out (or none), and how long it takes on
// the session's clock.
struct NextAnswer {
    HRESULT result;
    FakeClassObject* instance;
    unsigned long long elapsedMs;
};

inline NextAnswer instance(FakeClassObject& object, unsigned long long elapsedMs = 0) {
    return {WBEM_S_NO_ERROR, &object, elapsedMs};
}
inline NextAnswer answer(HRESULT result, unsigned long long elapsedMs = 0) {
    return {result, nullptr, elapsedMs};
}

// Gives its answers in order, then WBEM_S_FALSE; records the time-out of every Next.
class FakeEnumerator final : public Counted<IEnumWbemClassObject> {
  public:
    explicit FakeEnumerator(std::vector<NextAnswer> answers) : answers_(std::move(answers)) {}

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        timeouts.push_back(timeout);
        if (count != 1 || objects == nullptr || returned == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *objects = nullptr;
        *returned = 0;
        if (position_ >= answers_.size()) {
            return WBEM_S_FALSE;
        }
        const NextAnswer& next = answers_[position_++];
        now += next.elapsedMs;
        if (next.instance != nullptr) {
            next.instance->AddRef();
            *objects = next.instance;
            *returned = 1;
        }
        return next.result;
    }

    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }

    std::vector<LONG> timeouts;  // one per Next call

  private:
    std::vector<NextAnswer> answers_;
    std::size_t position_ = 0;
};

// What one CreateInstanceEnum or ExecQuery call answers: its result and, unless null, a fresh
// enumerator with these Next answers (handed out even with a failing result).
struct CallAnswer {
    HRESULT result;
    bool withEnumerator;
    std::vector<NextAnswer> answers;
    unsigned long long elapsedMs = 0;
};

inline CallAnswer walk(std::vector<NextAnswer> answers) {
    return {WBEM_S_NO_ERROR, true, std::move(answers)};
}
// A call answering `result`, with an enumerator that is never walked or without one.
inline CallAnswer called(HRESULT result, bool withEnumerator) {
    return {result, withEnumerator, {}};
}

class FakeServices final : public Counted<IWbemServices> {
  public:
    // Calls for a name take the answers in order; the last one repeats. A name without answers
    // is an invalid class.
    void answer(const std::wstring& name, std::vector<CallAnswer> answers) {
        answers_.emplace_back(name, std::deque<CallAnswer>(answers.begin(), answers.end()));
    }

    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR filter, LONG flags,
                                                 IWbemContext* context,
                                                 IEnumWbemClassObject** result) override {
        calls.push_back({L"enum", copy(filter), flags, isRealBstr(filter) && context == nullptr});
        return respond(copy(filter), result);
    }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context,
                                        IEnumWbemClassObject** result) override {
        calls.push_back({copy(language), copy(query), flags,
                         isRealBstr(language) && isRealBstr(query) && context == nullptr});
        return respond(copy(query), result);
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                       IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                             IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext*, IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*,
                                         IWbemClassObject*, IWbemClassObject**,
                                         IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IWbemClassObject*, IWbemObjectSink*) override {
        return E_NOTIMPL;
    }

    struct Call {
        std::wstring kind;  // L"enum" or the query language
        std::wstring target;
        LONG flags;
        bool wellFormed;  // real BSTRs, no context
    };
    std::vector<Call> calls;
    // Every enumerator handed out, still referenced by this record.
    std::vector<std::unique_ptr<FakeEnumerator>> enumerators;

    int callsFor(const std::wstring& target) const {
        int count = 0;
        for (const Call& call : calls) {
            count += call.target == target ? 1 : 0;
        }
        return count;
    }

  private:
    static std::wstring copy(BSTR text) {
        return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
    }
    // A BSTR carries its length in front; a plain wide string would not match it.
    static bool isRealBstr(BSTR text) {
        return text != nullptr && SysStringLen(text) == std::wcslen(text);
    }

    HRESULT respond(const std::wstring& target, IEnumWbemClassObject** result) {
        if (result == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *result = nullptr;
        for (auto& entry : answers_) {
            if (entry.first != target || entry.second.empty()) {
                continue;
            }
            CallAnswer answer = entry.second.front();
            if (entry.second.size() > 1) {
                entry.second.pop_front();
            }
            now += answer.elapsedMs;
            if (answer.withEnumerator) {
                enumerators.push_back(std::make_unique<FakeEnumerator>(answer.answers));
                enumerators.back()->AddRef();
                *result = enumerators.back().get();
            }
            return answer.result;
        }
        return WBEM_E_INVALID_CLASS;
    }

    std::vector<std::pair<std::wstring, std::deque<CallAnswer>>> answers_;
};

class FakeLocator final : public Counted<IWbemLocator> {
  public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user,
                                            const BSTR password, const BSTR locale, LONG flags,
                                            const BSTR authority, IWbemContext* context,
                                            IWbemServices** services) override {
        if (gate != nullptr) {
            WaitForSingleObject(gate, 30000);  // a WMI that answers late (bounded, for the test)
        }
        ++connects;
        resources.emplace_back(resource == nullptr ? L"" : resource);
        lastFlags = flags;
        if (user != nullptr || password != nullptr || locale != nullptr || authority != nullptr ||
            context != nullptr || services == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        if (FAILED(connectResult)) {
            *services = nullptr;
            return connectResult;
        }
        target->AddRef();
        *services = target;
        return S_OK;
    }

    FakeServices* target = nullptr;
    HRESULT connectResult = S_OK;
    HANDLE gate = nullptr;  // when set, ConnectServer answers once it is signalled
    int connects = 0;
    std::vector<std::wstring> resources;
    LONG lastFlags = 0;
};

// Hands out the locator to CoCreateInstance once registered for the locator's class.
class FakeLocatorFactory final : public Counted<IClassFactory> {
  public:
    explicit FakeLocatorFactory(FakeLocator& locator) : locator_(locator) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        ++creates;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return locator_.QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    int creates = 0;

  private:
    FakeLocator& locator_;
};

}  // namespace quorvane::fakewbem
