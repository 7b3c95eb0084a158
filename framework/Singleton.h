#pragma once

// One process-wide instance of T, created on first use (on the GUI thread, so without a lock).
// The program ends each instance explicitly with destroyInstance(), in the reverse order of
// creation and while the application object still exists. Instances nobody destroyed are left
// to the operating system: running a QObject's destructor during static destruction, after Qt's
// own thread-local state is gone, crashes.
template <typename T>
class Singleton
{
public:
    static T *instance()
    {
        T *&object = holder();
        if (!object)
            object = new T();
        return object;
    }

    static bool exists() { return holder() != nullptr; }

    static void destroyInstance()
    {
        T *&object = holder();
        delete object;
        object = nullptr;
    }

protected:
    Singleton() = default;
    ~Singleton() = default;

private:
    static T *&holder()
    {
        static T *object = nullptr;
        return object;
    }
};
