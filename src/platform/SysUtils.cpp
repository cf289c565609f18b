#include "platform/SysUtils.h"

#include "platform/OsApi.h"

#include <cxxabi.h>
#include <sys/uio.h>

#include <cerrno>

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

namespace {

// Where process_vm_readv is not allowed (some sandboxes filter it), a write from the
// memory into a pipe fails with EFAULT just the same.
bool IsReadableThroughPipe(const char* at, std::size_t size) noexcept
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    bool readable = true;
    while (size > 0 && readable) {
        std::size_t chunk = size < 4096 ? size : 4096;
        ssize_t n = ::write(fds[1], at, chunk);
        if (n <= 0) {
            readable = false;
            break;
        }
        char sink[4096];
        if (::read(fds[0], sink, static_cast<std::size_t>(n)) != n)
            readable = false;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return readable;
}

} // namespace

bool IsReadable(const void* p, std::size_t size) noexcept
{
    if (p == nullptr)
        return false;
    if (size == 0)
        return true;
    // Let the kernel do the read: process_vm_readv on our own process reports EFAULT for
    // an unmapped address instead of raising a signal.
    char buffer[256];
    const char* at = static_cast<const char*>(p);
    while (size > 0) {
        std::size_t chunk = size < sizeof buffer ? size : sizeof buffer;
        iovec local{buffer, chunk};
        iovec remote{const_cast<char*>(at), chunk};
        ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
        if (n < 0 && (errno == ENOSYS || errno == EPERM))
            return IsReadableThroughPipe(at, size);
        if (n != static_cast<ssize_t>(chunk))
            return false;
        at += chunk;
        size -= chunk;
    }
    return true;
}

} // namespace Sys
