// Window messages and message boxes as services: the form layer fills them with the real thing;
// tests install their own; without a handler a box is written to stderr and answers OK.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace rtl {

using HWND = void*;

constexpr uint32_t WM_USER = 0x0400;

constexpr int MB_OK = 0x0;
constexpr int MB_OKCANCEL = 0x1;
constexpr int MB_YESNO = 0x4;
constexpr int MB_ICONERROR = 0x10;
constexpr int MB_ICONQUESTION = 0x20;
constexpr int MB_ICONWARNING = 0x30;
constexpr int MB_ICONINFORMATION = 0x40;
constexpr int MB_DEFBUTTON2 = 0x100;  // the second button (No, Cancel) is the default
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, int flags)>;
using PostMessageHandler = std::function<bool(HWND window, uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

// Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
int MessageBox(const std::string& text, const std::string& caption, int flags);

PostMessageHandler SetPostMessageHandler(PostMessageHandler handler);
// False when no handler is installed or it refused the message.
bool PostMessage(HWND window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

}  // namespace rtl
