#pragma once
// An event handler of a socket, held only once one is assigned. A server's connection assigns
// two or three of its events; an empty std::function takes 32 bytes all the same, which for the
// ten events of each of 10,000 idle connections is most of what they hold. Assigned, called
// and tested as the std::function it holds, which once made stays where it is: a handler that
// replaces or clears itself while it runs keeps running in place, as it did in a std::function.
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
    TSocketEvent(const TSocketEvent& other)
    {
        if (other)
            F = std::make_unique<Function>(*other.F);
    }
    TSocketEvent& operator=(const TSocketEvent& other)
    {
        if (this != &other)
            Set(other ? *other.F : Function());
        return *this;
    }
    TSocketEvent& operator=(std::nullptr_t)
    {
        if (F)
            *F = nullptr;
        return *this;
    }
    // A lambda, a function or a std::function; an empty one unassigns.
    template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, TSocketEvent> &&
                                                      std::is_constructible_v<Function, T&&>>>
    TSocketEvent& operator=(T&& f)
    {
        Set(Function(std::forward<T>(f)));
        return *this;
    }

    explicit operator bool() const { return F && *F; }
    template <typename... Args>
    decltype(auto) operator()(Args&&... args) const
    {
        return (*F)(std::forward<Args>(args)...);
    }

private:
    void Set(Function&& fn)
    {
        if (F)
            *F = std::move(fn);
        else if (fn)
            F = std::make_unique<Function>(std::move(fn));
    }

    std::unique_ptr<Function> F;
};
