#pragma once
// The substitute's login state, for tests and for the host's own diagnostics.

#include <map>
#include <string>

namespace WexelHost {

inline constexpr const char* DefaultConfiguration = "default";

struct TLoginState {
    bool LoggedIn = false;
    std::string Config;                          // the name PerformLogin was given
    std::map<std::string, std::string> Settings; // "Section.Name" -> value
};

const TLoginState& LoginState();

} // namespace WexelHost
