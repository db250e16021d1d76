#include "handles.h"

namespace fotex {

namespace {
HandleForgetter g_forget = nullptr;
}  // namespace

void SetHandleForgetter(HandleForgetter forget) { g_forget = forget; }

void ReleaseHandle(IWiaItem* item) {
    if (item == nullptr) return;
    if (g_forget != nullptr) g_forget(item);
    item->Release();
}

}  // namespace fotex
