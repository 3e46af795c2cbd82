#include "rtl/Messages.h"

#include <cstdio>
#include <mutex>

namespace rtl {
namespace {
std::mutex lock;
MessageBoxHandler boxHandler;
PostMessageHandler postHandler;
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard guard(lock);
    std::swap(boxHandler, handler);
    return handler;
}

int MessageBox(const std::string& text, const std::string& caption, int flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard guard(lock);
        handler = boxHandler;
    }
    if (handler) return handler(text, caption, flags);
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return IDOK;
}

PostMessageHandler SetPostMessageHandler(PostMessageHandler handler) {
    std::lock_guard guard(lock);
    std::swap(postHandler, handler);
    return handler;
}

bool PostMessage(HWND window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    PostMessageHandler handler;
    {
        std::lock_guard guard(lock);
        handler = postHandler;
    }
    return handler && handler(window, msg, wParam, lParam);
}

}  // namespace rtl
