#pragma once

#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <typeinfo>
#include <utility>

// Raised on the sending thread when a proxy's target has been withdrawn, before or
// while a call was on its way. It is an invalid-argument failure like a call the
// target does not implement, so callers that only care about "did not run" catch the
// base class.
class ZVTargetWithdrawn : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Stands in for a target it does not own and runs calls on the target on the main
// thread (the thread of the application object) while the sending thread waits. On
// the main thread a call runs at once.
//
// "Responds to" is a check that the target implements the interface a member function
// belongs to (a dynamic_cast for polymorphic targets). A call the target cannot take
// raises std::invalid_argument on the sending thread and runs nothing on the main
// thread.
//
// The rule every target must keep: a method reached through a proxy must never wait,
// on the main thread, for the thread that sent the call. The sender is blocked until
// the method returns, so such a wait never ends.
//
// Lifetime: the proxy does not keep its target alive. Whoever gives a target a proxy
// and may outlive the target calls withdrawTarget() before the target goes; from then
// on no call reaches it, and withdrawTarget() itself waits for a call that is running
// on another thread to return.
template <class Target>
class ZVMainThreadProxy : public std::enable_shared_from_this<ZVMainThreadProxy<Target>> {
    struct Token {};

public:
    using Pointer = std::shared_ptr<ZVMainThreadProxy>;

    static Pointer proxyWithTarget(Target* target) {
        return std::make_shared<ZVMainThreadProxy>(Token{}, target);
    }
    ZVMainThreadProxy(Token, Target* target) : m_target(target) {}
    ZVMainThreadProxy(const ZVMainThreadProxy&) = delete;
    ZVMainThreadProxy& operator=(const ZVMainThreadProxy&) = delete;

    // Asking a proxy for a proxy gives the proxy itself, never a proxy of a proxy.
    Pointer mainThreadProxy() { return this->shared_from_this(); }
    Pointer copyMainThreadProxy() { return this->shared_from_this(); }

    // Answered by the proxy itself: it describes the proxy, not the target.
    QString description() const {
        return QStringLiteral("<ZVMainThreadProxy: 0x%1>")
            .arg(reinterpret_cast<quintptr>(this), 0, 16);
    }

    // Whether the target (still) implements Interface.
    template <class Interface> bool respondsTo() const {
        std::lock_guard lock(m_targetMutex);
        return targetAs<Interface>() != nullptr;
    }

    // Runs (target->*method)(args...) on the main thread, waits, and returns its result.
    // An exception thrown by the method is raised again on the sending thread.
    template <class Interface, class Method, class... Args>
    decltype(auto) call(Method Interface::*method, Args&&... args) {
        using R = std::invoke_result_t<Method Interface::*, Interface*, Args&&...>;
        static_assert(!std::is_rvalue_reference_v<R>, "a forwarded call cannot return an rvalue");
        checkResponds<Interface>();
        auto run = [&]() -> R {
            // Held while the target runs, so withdrawTarget() waits for this call.
            std::lock_guard running(m_callMutex);
            Interface* target = nullptr;
            {
                std::lock_guard lock(m_targetMutex);
                target = targetAs<Interface>();
            }
            if (!target)
                throw ZVTargetWithdrawn(notTaken<Interface>());
            return std::invoke(method, target, std::forward<Args>(args)...);
        };
        return onMainThread<R>(run);
    }

    // The fire-and-wait form: runs the call like call() but gives nothing back.
    template <class Interface, class Method, class... Args>
    void perform(Method Interface::*method, Args&&... args) {
        call(method, std::forward<Args>(args)...);
    }

    // From now on no call reaches the target; waits for a call running on another
    // thread to return (a call on this thread's stack may withdraw its own target).
    void withdrawTarget() {
        std::lock_guard running(m_callMutex);
        std::lock_guard lock(m_targetMutex);
        m_target = nullptr;
    }

private:
    template <class Interface> Interface* targetAs() const {
        if (!m_target)
            return nullptr;
        if constexpr (std::is_convertible_v<Target*, Interface*>)
            return m_target;
        else if constexpr (std::is_polymorphic_v<Target>)
            return dynamic_cast<Interface*>(m_target);
        else
            return nullptr;
    }

    template <class Interface> static std::string notTaken() {
        const char* mangled = typeid(Interface).name();
        int status = 0;
        std::unique_ptr<char, void (*)(void*)> readable(
            abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
        return std::string("ZVMainThreadProxy: the target does not take calls of ") +
               (status == 0 && readable ? readable.get() : mangled);
    }

    template <class Interface> void checkResponds() const {
        std::lock_guard lock(m_targetMutex);
        if (!m_target)
            throw ZVTargetWithdrawn(notTaken<Interface>());
        if (!targetAs<Interface>())
            throw std::invalid_argument(notTaken<Interface>());
    }

    template <class R, class F> static R onMainThread(F& run) {
        if (!QCoreApplication::instance())
            throw std::logic_error("ZVMainThreadProxy: there is no main thread to run on");
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            return run();

        using Stored = std::conditional_t<std::is_reference_v<R>,
                                          std::reference_wrapper<std::remove_reference_t<R>>, R>;
        std::optional<std::conditional_t<std::is_void_v<R>, bool, Stored>> result;
        std::exception_ptr error;
        const bool ran = platform::runOnMainThreadAndWait([&] {
            try {
                if constexpr (std::is_void_v<R>) {
                    run();
                    result.emplace(true);
                } else {
                    result.emplace(run());
                }
            } catch (...) {
                error = std::current_exception();
            }
        });
        if (error)
            std::rethrow_exception(error);
        // The hand-over is refused when the application object goes away first.
        if (!ran || !result)
            throw ZVTargetWithdrawn("ZVMainThreadProxy: the main thread ended before the call");
        if constexpr (!std::is_void_v<R>)
            return std::move(*result);
    }

    mutable std::mutex m_targetMutex;
    std::recursive_mutex m_callMutex;
    Target* m_target; // guarded by m_targetMutex; not owned
};

// Available on every object: a proxy for it. Both forms hand the caller a reference to
// the proxy; given a proxy, they give that same proxy.
template <class T> std::shared_ptr<ZVMainThreadProxy<T>> mainThreadProxy(T* object) {
    return ZVMainThreadProxy<T>::proxyWithTarget(object);
}
template <class T>
std::shared_ptr<ZVMainThreadProxy<T>> mainThreadProxy(ZVMainThreadProxy<T>* proxy) {
    return proxy->mainThreadProxy();
}
template <class T> std::shared_ptr<ZVMainThreadProxy<T>> copyMainThreadProxy(T* object) {
    return ZVMainThreadProxy<T>::proxyWithTarget(object);
}
template <class T>
std::shared_ptr<ZVMainThreadProxy<T>> copyMainThreadProxy(ZVMainThreadProxy<T>* proxy) {
    return proxy->copyMainThreadProxy();
}
