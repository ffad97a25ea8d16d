// The component on a host's worker threads, with COM left uninitialised on the main thread: each
// worker initialises an apartment, creates the object by its program identifier, draws a caption,
// releases the image and the object and uninitialises, which unloads the server with the last
// apartment that loaded it. The workers end only after that, all at once, so that whatever the
// caption left behind on their threads is cleaned up after the server is gone. A multithreaded
// apartment cannot create the object, which offers no proxy.
#include <cstring>
#include <vector>

#include "host.h"
#include "host_sequence.h"

namespace zavtest {

namespace {

// How long a worker may take for its caption, and the grace after the last worker has ended in
// which the process must stay alive: thread-exit cleanup runs after the thread's handle signals.
constexpr DWORD kWorkTimeoutMs = 120000;
constexpr DWORD kAfterExitMs = 500;

// What one worker saw; checked on the main thread, where failures are counted.
struct WorkerResult {
    HRESULT initialized = E_FAIL;
    HRESULT progId = E_FAIL;
    HRESULT created = E_FAIL;
    HRESULT image = E_FAIL;
    HRESULT caption = E_FAIL;
    HRESULT released = E_FAIL;
    int ink = 0;
    ULONG lastRef = 1;
};

struct Worker {
    const char *caption = nullptr;
    HANDLE uninitialized = nullptr;  // set by the worker after CoUninitialize
    HANDLE leave = nullptr;          // shared: set by the main thread to let every worker end
    WorkerResult result;
};

int CountInk(const ZAVImageStruct &image) {
    int ink = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const unsigned char *p = image.data + y * Stride(image) + 3 * x;
            ink += p[0] == 0 && p[1] == 0 && p[2] == 255;
        }
    }
    return ink;
}

void DrawCaption(Worker &w) {
    WorkerResult &r = w.result;
    CLSID clsid{};
    r.progId = CLSIDFromProgID(L"ZAVImage.ZAVImageOCX", &clsid);
    if (FAILED(r.progId)) {
        return;
    }
    IZAVImageOCX *object = nullptr;
    r.created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZAVImageOCX,
                                 reinterpret_cast<void **>(&object));
    if (FAILED(r.created) || object == nullptr) {
        return;
    }
    ZAVImageStruct image{};
    r.image = object->ZAVCreateImage(240, 48, 8, 3, &image);
    if (r.image == S_OK && image.data != nullptr) {
        std::memset(image.data, 0xFF, static_cast<size_t>(Stride(image)) * image.height);
        r.caption = object->ZAVPutTextToImage(
            &image, reinterpret_cast<unsigned char *>(const_cast<char *>(w.caption)), 4, 36, 2,
            kSequenceFontSize, 0.0f, 0.0f);
        r.ink = CountInk(image);
        ZAVImageStruct *record = &image;
        r.released = object->ZAVReleaseImage(&record);
    }
    r.lastRef = object->Release();
}

DWORD WINAPI WorkerMain(void *argument) {
    Worker &w = *static_cast<Worker *>(argument);
    w.result.initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(w.result.initialized)) {
        DrawCaption(w);
        CoUninitialize();
    }
    SetEvent(w.uninitialized);
    WaitForSingleObject(w.leave, kWorkTimeoutMs);
    return 0;
}

void CheckWorker(const WorkerResult &r) {
    CHECK_HR(S_OK, r.initialized);
    CHECK_HR(S_OK, r.progId);
    CHECK_HR(S_OK, r.created);
    CHECK_HR(S_OK, r.image);
    CHECK_HR(S_OK, r.caption);
    CHECK(r.ink > 50);
    CHECK_HR(S_OK, r.released);
    CHECK_EQ(0, r.lastRef);
}

// One round: count workers draw their captions at once and end together once every apartment
// is gone and the server with them.
void RunRound(int count, const char *caption) {
    std::vector<Worker> workers(count);
    std::vector<HANDLE> uninitialized;
    std::vector<HANDLE> threads;
    HANDLE leave = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CHECK(leave != nullptr);
    for (Worker &w : workers) {
        w.caption = caption;
        w.leave = leave;
        w.uninitialized = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = w.uninitialized != nullptr && leave != nullptr
                            ? CreateThread(nullptr, 0, WorkerMain, &w, 0, nullptr)
                            : nullptr;
        CHECK(thread != nullptr);
        if (thread == nullptr) {
            break;
        }
        uninitialized.push_back(w.uninitialized);
        threads.push_back(thread);
    }
    if (!threads.empty()) {
        CHECK_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(static_cast<DWORD>(uninitialized.size()),
                                                       uninitialized.data(), TRUE, kWorkTimeoutMs));
        // The last apartment that loaded the server unloaded it: the workers end without it.
        CHECK(GetModuleHandleW(L"ZAVImage.dll") == nullptr);
        SetEvent(leave);
        CHECK_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(static_cast<DWORD>(threads.size()),
                                                       threads.data(), TRUE, kWorkTimeoutMs));
        Sleep(kAfterExitMs);
    }
    for (size_t i = 0; i < threads.size(); ++i) {
        CheckWorker(workers[i].result);
        CloseHandle(threads[i]);
    }
    for (Worker &w : workers) {
        if (w.uninitialized != nullptr) {
            CloseHandle(w.uninitialized);
        }
    }
    if (leave != nullptr) {
        CloseHandle(leave);
    }
}

// What creation from a multithreaded apartment gave.
struct MultithreadedResult {
    HRESULT initialized = E_FAIL;
    HRESULT created = S_OK;
    void *object = reinterpret_cast<void *>(1);
};

DWORD WINAPI MultithreadedMain(void *argument) {
    MultithreadedResult &r = *static_cast<MultithreadedResult *>(argument);
    r.initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(r.initialized)) {
        return 0;
    }
    // The object lives in an apartment of its own; its interface of raw pointers has no proxy.
    r.created = CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IZAVImageOCX, &r.object);
    if (SUCCEEDED(r.created) && r.object != nullptr) {
        static_cast<IUnknown *>(r.object)->Release();
    }
    CoUninitialize();
    return 0;
}

}  // namespace

void RunThreadsGroup(int count, int rounds) {
    CHECK(count >= 1 && count <= MAXIMUM_WAIT_OBJECTS);
    if (count < 1 || count > MAXIMUM_WAIT_OBJECTS) {
        return;
    }
    char caption[64] = {};
    CHECK(WideCharToMultiByte(CP_ACP, 0, kSequenceCaption, -1, caption, sizeof caption, nullptr,
                              nullptr) > 0);
    CHECK(GetModuleHandleW(L"ZAVImage.dll") == nullptr);
    for (int round = 0; round < rounds; ++round) {
        RunRound(count, caption);
    }
}

void RunMultithreadedGroup() {
    MultithreadedResult r;
    HANDLE thread = CreateThread(nullptr, 0, MultithreadedMain, &r, 0, nullptr);
    CHECK(thread != nullptr);
    if (thread == nullptr) {
        return;
    }
    CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kWorkTimeoutMs));
    CloseHandle(thread);
    CHECK_HR(S_OK, r.initialized);
    CHECK_HR(E_NOINTERFACE, r.created);
    CHECK(r.object == nullptr);
}

}  // namespace zavtest
