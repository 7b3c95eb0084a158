#pragma once

#include <memory>

// One process-wide instance of T, created on first use (on the GUI thread, so without a lock).
// destroyInstance() ends it early where its lifetime must end before the application object's
// (the main window); everything else lives until the process ends.
template <typename T>
class Singleton
{
public:
    static T *instance()
    {
        std::unique_ptr<T> &object = holder();
        if (!object)
            object.reset(new T());
        return object.get();
    }

    static bool exists() { return holder() != nullptr; }
    static void destroyInstance() { holder().reset(); }

protected:
    Singleton() = default;
    ~Singleton() = default;

private:
    static std::unique_ptr<T> &holder()
    {
        static std::unique_ptr<T> object;
        return object;
    }
};
