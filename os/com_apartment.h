#pragma once

// COM for the calling thread. Where there is no COM (Linux) every call succeeds and
// does nothing, so portable code enters an apartment wherever Windows needs one.

#include <cstdint>

namespace os {

class ComApartment {
public:
    enum class Kind { SingleThreaded, MultiThreaded };

    // Initialises COM for the calling thread for as long as the object lives.
    explicit ComApartment(Kind kind);
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool ok() const { return result_ >= 0; }
    // The HRESULT of the initialisation (S_FALSE: the thread already had COM).
    std::int32_t result() const { return result_; }

    // Joins the calling thread to a single-threaded apartment for the rest of its
    // life, for threads that go on using COM objects until they end. A thread already
    // in either model is fine: it only needs COM usable.
    static void enterForThread();

private:
    std::int32_t result_ = 0;
};

} // namespace os
