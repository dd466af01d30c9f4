// Component and context descriptors, and the defaults a log call falls back
// on: one per thread (64 slots, each holding a handle of its thread so that
// slots of ended threads can be found and reused) and one per process.
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "tracelog/pbinternal.h"

namespace {

const int kThreadSlots = 64;
const size_t kNameUnits = 64;

struct ThreadDefault {
    HANDLE thread;  // null: the slot is free
    DWORD threadId;
    const PBComponent* component;
    const PBContext* context;
};

ThreadDefault g_slots[kThreadSlots];
SRWLOCK g_slotsLock = SRWLOCK_INIT;

bool threadEnded(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

void freeSlot(ThreadDefault* slot) {
    if (slot->thread) CloseHandle(slot->thread);
    *slot = {};
}

void sweepEndedThreads() {
    for (ThreadDefault& slot : g_slots)
        if (slot.thread && threadEnded(slot.thread)) freeSlot(&slot);
}

ThreadDefault* findSlot(DWORD threadId) {
    for (ThreadDefault& slot : g_slots)
        if (slot.thread && slot.threadId == threadId) return &slot;
    return nullptr;
}

enum SlotProblem { SLOT_OK, SLOT_TABLE_FULL, SLOT_NO_HANDLE };

// A free slot holding a duplicated handle of the calling thread.
ThreadDefault* takeSlot(SlotProblem* problem) {
    for (ThreadDefault& slot : g_slots) {
        if (slot.thread) continue;
        HANDLE thread = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, SYNCHRONIZE,
                             FALSE, 0)) {
            *problem = SLOT_NO_HANDLE;
            return nullptr;
        }
        slot = {thread, GetCurrentThreadId(), nullptr, nullptr};
        return &slot;
    }
    *problem = SLOT_TABLE_FULL;
    return nullptr;
}

// Sets one of the calling thread's two defaults (the member given) and
// returns the previous one. The table is swept first.
template <typename T>
const T* setThreadDefault(const T* ThreadDefault::*member, const T* value) {
    SlotProblem problem = SLOT_OK;
    const T* previous = nullptr;
    AcquireSRWLockExclusive(&g_slotsLock);
    sweepEndedThreads();
    ThreadDefault* slot = findSlot(GetCurrentThreadId());
    if (!slot && value) slot = takeSlot(&problem);
    if (slot) {
        previous = slot->*member;
        slot->*member = value;
        if (!slot->component && !slot->context) freeSlot(slot);
    }
    ReleaseSRWLockExclusive(&g_slotsLock);
    if (problem == SLOT_TABLE_FULL)
        pbLogApi(L"Request for thread default component or context was not satisfied.  Too many concurrent threads.");
    if (problem == SLOT_NO_HANDLE)
        pbLogApi(L"Request for thread default component or context was not satisfied.  DuplicateHandle failed.");
    return previous;
}

template <typename T>
const T* threadDefault(const T* ThreadDefault::*member) {
    const T* value = nullptr;
    AcquireSRWLockShared(&g_slotsLock);
    // A thread id may be reused by a new thread before the next sweep.
    ThreadDefault* slot = findSlot(GetCurrentThreadId());
    if (slot && !threadEnded(slot->thread)) value = slot->*member;
    ReleaseSRWLockShared(&g_slotsLock);
    return value;
}

template <typename T>
const T* setDefault(std::atomic<const T*>* processDefault, const T* ThreadDefault::*member, const T* value,
                    int option) {
    if (option == PB_DEFAULT_PROCESS) return processDefault->exchange(value);
    if (option == PB_DEFAULT_THREAD) return setThreadDefault(member, value);
    pbLogApi(L"Invalid option %d specified to PBSetDefaultComponent / PBSetDefaultContext.", option);
    return nullptr;
}

// Whether a descriptor can be written: committed, writable, not a guard page.
bool writable(const void* at, size_t bytes) {
    MEMORY_BASIC_INFORMATION info;
    const DWORD writableMask = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const char* p = static_cast<const char*>(at);
    const char* end = p + bytes;
    while (p < end) {
        if (VirtualQuery(p, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
            !(info.Protect & writableMask) || (info.Protect & PAGE_GUARD))
            return false;
        p = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

// A descriptor name: at most 63 characters and the terminator.
void copyName(wchar_t* target, const wchar_t* text) {
    size_t units = text ? wcsnlen(text, kNameUnits - 1) : 0;
    wmemcpy(target, text ? text : L"", units);
    target[units] = 0;
}

// A name from the module's string resources; empty (and reported) when the
// resource cannot be loaded.
std::wstring resourceName(UINT id) {
    wchar_t text[kNameUnits];
    if (LoadStringW(moduleInstance(), id, text, kNameUnits) > 0) return text;
    pbLogApi(L"Unable to load resource string.");
    return std::wstring();
}

// Names are converted under the buffer lock; when logging is off they are
// stored empty and only the flags are set. One guard covers the whole change,
// so a shutdown meanwhile leaves the connection open until it is done.
void fillNames(wchar_t* nameTarget, const wchar_t* name, wchar_t* keyTarget, const wchar_t* key) {
    PBCallGuard guard;
    bool on = guard.active() && pbEnsureConnected();
    bool locked = on && pbLock();
    copyName(nameTarget, on ? name : nullptr);
    if (keyTarget) copyName(keyTarget, on ? key : nullptr);
    if (locked) pbUnlock();
}

unsigned long long address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

bool componentUsable(PBComponent* target, const void* name, const void* key) {
    if (!target) {
        pbLogApi(L"PBSetComponent / PBSetContext called with target pointer NULL.");
        return false;
    }
    if (!writable(target, sizeof *target)) {
        pbLogApi(L"Access violation in PBSetComponent, pcp 0x%llX, pszName / ulNameStringId 0x%llX, pszKey 0x%llX.",
                 address(target), address(name), address(key));
        return false;
    }
    return true;
}

bool contextUsable(PBContext* target, const void* name) {
    if (!target) {
        pbLogApi(L"PBSetComponent / PBSetContext called with target pointer NULL.");
        return false;
    }
    if (!writable(target, sizeof *target)) {
        pbLogApi(L"Access violation in PBSetContext, pcx 0x%llX, pszName / ulNameStringId 0x%llX.", address(target),
                 address(name));
        return false;
    }
    return true;
}

void setComponent(PBComponent* target, const wchar_t* name, const wchar_t* key, BOOL enabled, DWORD mutedLevels) {
    fillNames(target->name, name, target->key, key);
    target->enabled = enabled;
    target->mutedLevels = mutedLevels;
}

void setContext(PBContext* target, const wchar_t* name, BOOL enabled, DWORD mutedLevels) {
    fillNames(target->name, name, nullptr, nullptr);
    target->enabled = enabled;
    target->mutedLevels = mutedLevels;
}

}  // namespace

void PBSetComponent(PBComponent* target, const char* name, const char* key, BOOL enabled, DWORD mutedLevels) {
    if (componentUsable(target, name, key))
        setComponent(target, pbWiden(name).c_str(), pbWiden(key).c_str(), enabled, mutedLevels);
}

void PBSetComponent(PBComponent* target, const wchar_t* name, const wchar_t* key, BOOL enabled, DWORD mutedLevels) {
    if (componentUsable(target, name, key)) setComponent(target, name, key, enabled, mutedLevels);
}

void PBSetComponentId(PBComponent* target, UINT nameStringId, const wchar_t* key, BOOL enabled, DWORD mutedLevels) {
    if (componentUsable(target, reinterpret_cast<const void*>(uintptr_t(nameStringId)), key))
        setComponent(target, resourceName(nameStringId).c_str(), key, enabled, mutedLevels);
}

void PBSetContext(PBContext* target, const char* name, BOOL enabled, DWORD mutedLevels) {
    if (contextUsable(target, name)) setContext(target, pbWiden(name).c_str(), enabled, mutedLevels);
}

void PBSetContext(PBContext* target, const wchar_t* name, BOOL enabled, DWORD mutedLevels) {
    if (contextUsable(target, name)) setContext(target, name, enabled, mutedLevels);
}

void PBSetContextId(PBContext* target, UINT nameStringId, BOOL enabled, DWORD mutedLevels) {
    if (contextUsable(target, reinterpret_cast<const void*>(uintptr_t(nameStringId))))
        setContext(target, resourceName(nameStringId).c_str(), enabled, mutedLevels);
}

const PBComponent* PBSetDefaultComponent(const PBComponent* component, int option) {
    return setDefault(&pbClient().defaultComponent, &ThreadDefault::component, component, option);
}

const PBContext* PBSetDefaultContext(const PBContext* context, int option) {
    return setDefault(&pbClient().defaultContext, &ThreadDefault::context, context, option);
}

const PBComponent* pbThreadComponent() { return threadDefault(&ThreadDefault::component); }

const PBContext* pbThreadContext() { return threadDefault(&ThreadDefault::context); }

void pbReleaseThreadDefaults() {
    AcquireSRWLockExclusive(&g_slotsLock);
    for (ThreadDefault& slot : g_slots) freeSlot(&slot);
    ReleaseSRWLockExclusive(&g_slotsLock);
}
