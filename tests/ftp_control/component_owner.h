// Runs an FtpComponent the way the program does: constructed on a thread
// of its own that runs a message loop (the owner), driven synchronously
// from the test's thread.
#pragma once
#include <windows.h>

#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "ftp/ftp_component.h"

class ComponentOwner {
public:
    ComponentOwner()
    {
        std::promise<void> ready;
        auto started = ready.get_future();
        thread_ = std::thread([this, &ready] {
            MSG m;
            PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // create the queue
            threadId_ = GetCurrentThreadId();
            component_ = std::make_unique<ftp::FtpComponent>();
            ready.set_value();
            while (GetMessageA(&m, nullptr, 0, 0) > 0) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
            component_.reset();
        });
        started.wait();
    }

    ~ComponentOwner()
    {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

    ftp::FtpComponent& operator*() { return *component_; }
    ftp::FtpComponent* operator->() { return component_.get(); }
    DWORD threadId() const { return threadId_; }

private:
    std::thread thread_;
    DWORD threadId_ = 0;
    std::unique_ptr<ftp::FtpComponent> component_;
};
