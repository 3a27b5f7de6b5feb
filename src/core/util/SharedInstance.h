#pragma once

#include <cassert>
#include <functional>
#include <memory>
#include <stdexcept>

namespace tavrine {

// Backs the process-wide `shared()` instance of a core class. The application installs a factory that
// wires the real platform objects; the instance is created from it on first use and lives until exit.
// Tests either avoid shared() or install a factory over fakes and reset it afterwards.
template <typename T> class SharedInstance {
  public:
    static void setFactory(std::function<std::unique_ptr<T>()> factory) {
        slot().factory = std::move(factory);
    }
    static bool hasInstance() { return static_cast<bool>(slot().instance); }
    static T& get() {
        auto& s = slot();
        if (!s.instance) {
            if (!s.factory) {
                throw std::logic_error("shared instance used before its factory was installed");
            }
            s.instance = s.factory();
        }
        return *s.instance;
    }
    static void resetForTests() {
        auto& s = slot();
        s.instance.reset();
        s.factory = nullptr;
    }

  private:
    struct Slot {
        std::function<std::unique_ptr<T>()> factory;
        std::unique_ptr<T> instance;
    };
    static Slot& slot() {
        static Slot s;
        return s;
    }
};

} // namespace tavrine
