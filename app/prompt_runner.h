// Running a prompt: it goes on the application's modal prompt stack for as long as it is
// open, so the timer work pauses and the tray only brings it forward. A prompt that would
// overflow the stack is not shown and counts as cancelled.
#pragma once

#include <type_traits>

#include "app/agent_app.h"

namespace kv {

template <class Show>
auto RunPrompt(CAgentApp& app, Show&& show) -> decltype(show()) {
    using Result = decltype(show());
    if (!app.PushPrompt()) return Result{};
    struct Pop {
        CAgentApp& app;
        ~Pop() { app.PopPrompt(); }
    } pop{app};
    return show();
}

}  // namespace kv
