#pragma once
// An event handler of a socket, held only while one is assigned. A server's connection assigns
// two or three of its events; an empty std::function takes 32 bytes all the same, which for the
// dozen events of each of 10,000 idle connections is most of what they hold. Assigned, called
// and tested as the std::function it holds.
#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

template <typename Function>
class TSocketEvent {
public:
    TSocketEvent() = default;
    TSocketEvent(std::nullptr_t) {}
    TSocketEvent(const TSocketEvent& other) : F(other.F ? std::make_unique<Function>(*other.F) : nullptr) {}
    TSocketEvent(TSocketEvent&&) noexcept = default;
    TSocketEvent& operator=(const TSocketEvent& other)
    {
        if (this != &other)
            F = other.F ? std::make_unique<Function>(*other.F) : nullptr;
        return *this;
    }
    TSocketEvent& operator=(TSocketEvent&&) noexcept = default;
    TSocketEvent& operator=(std::nullptr_t)
    {
        F.reset();
        return *this;
    }
    // A lambda, a function or a std::function; an empty one unassigns.
    template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, TSocketEvent> &&
                                                      std::is_constructible_v<Function, T&&>>>
    TSocketEvent& operator=(T&& f)
    {
        Function fn(std::forward<T>(f));
        F = fn ? std::make_unique<Function>(std::move(fn)) : nullptr;
        return *this;
    }

    explicit operator bool() const { return F != nullptr; }
    template <typename... Args>
    decltype(auto) operator()(Args&&... args) const
    {
        return (*F)(std::forward<Args>(args)...);
    }

private:
    std::unique_ptr<Function> F;
};
