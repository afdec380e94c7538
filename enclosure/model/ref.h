// Ref<T>: one counted reference on a model object, released when the handle
// goes. Acquire functions return a reference the handle adopts; copies
// acquire another one.
#pragma once

#include <utility>

namespace halvorin {

class CSesDomain;
class CSesDev;
class CSubEnc;
class CSesElem;

void Retain(CSesDomain* object);
void Release(CSesDomain* object);
void Retain(CSesDev* object);
void Release(CSesDev* object);
void Retain(CSubEnc* object);
void Release(CSubEnc* object);
void Retain(CSesElem* object);
void Release(CSesElem* object);

template <typename T>
class Ref {
  public:
    Ref() = default;
    // Takes over a reference the caller already holds.
    static Ref Adopt(T* object) {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    // Takes a new reference on an object the caller reaches through another.
    static Ref Share(T* object) {
        if (object) Retain(object);
        return Adopt(object);
    }
    Ref(const Ref& other) : object_(other.object_) {
        if (object_) Retain(object_);
    }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() {
        if (object_) Release(std::exchange(object_, nullptr));
    }
    // Gives the reference back to the caller, who must release it.
    T* release() { return std::exchange(object_, nullptr); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    T* object_ = nullptr;
};

}  // namespace halvorin
