#include "platform/SysUtils.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace Sys {

void AssertionFailure(const char* unit, int line, const std::string& message)
{
    std::string text = message.empty() ? std::string("Assertion failure") : message;
    text += " (";
    text += unit;
    text += ", line ";
    text += std::to_string(line);
    text += ")";
    throw EAssertionFailed(std::move(text));
}

std::string ExceptionClassName(const std::exception& e)
{
    if (auto* own = dynamic_cast<const Exception*>(&e))
        return own->ClassName();
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

} // namespace Sys
