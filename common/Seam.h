// An interface to the system whose default is the real calls (the interface's own members); a
// test puts an implementation of its own in place for a scope. Every seam of the product is
// substituted this one way.
#pragma once

#include <atomic>

template <typename Interface> class Seam
{
public:
    // What the product calls: the test's implementation while one is in place, else the real one.
    static Interface& Active()
    {
        Interface* substitute = current.load();
        return substitute ? *substitute : Real();
    }

    static Interface& Real()
    {
        static Interface real;
        return real;
    }

    // Puts `replacement` in place until the end of the scope, then whatever was there before.
    class Substitute
    {
    public:
        explicit Substitute(Interface& replacement) : previous(current.exchange(&replacement)) {}
        ~Substitute() { current.store(previous); }
        Substitute(const Substitute&) = delete;
        Substitute& operator=(const Substitute&) = delete;

    private:
        Interface* previous;
    };

private:
    static inline std::atomic<Interface*> current{nullptr};
};
