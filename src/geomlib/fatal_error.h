#pragma once

#include <cstdint>
#include <exception>

// Every broken precondition of the geometry library throws a Fatal_Error.
// The fields are for diagnosis only (a debugger, a log line); no caller may
// base a decision on them. They point at string literals, so copying the
// exception never allocates.
struct Fatal_Error : std::exception {
    const char* condition = nullptr;  // the failed condition, null for failed allocations
    const char* message = "";
    const char* file = "";
    int line = 0;

    Fatal_Error() = default;
    Fatal_Error(const char* aCondition, const char* aMessage, const char* aFile, int aLine) noexcept
        : condition(aCondition), message(aMessage), file(aFile), line(aLine) {}

    const char* what() const noexcept override { return message; }
};

constexpr uint32_t g_DEFAULT_SIZE = 9;
constexpr bool g_FALSE = false;
constexpr bool g_TRUE = true;

// Throws Fatal_Error when the condition does not hold. The condition text and
// message describe the broken rule.
[[noreturn]] void g_fail(const char* condition, const char* message, const char* file, int line);

#define G_CHECK(cond, condText, message)                          \
    do {                                                          \
        if (!(cond)) g_fail((condText), (message), __FILE__, __LINE__); \
    } while (false)

#define G_FAIL_ALLOC(message) g_fail(nullptr, (message), __FILE__, __LINE__)
