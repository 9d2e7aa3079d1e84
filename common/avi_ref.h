// Owning handles for the platform's streams and files: one reference each, dropped when the
// handle goes. Move-only, like the reference they hold.
#pragma once

#include "avifile/avifile.h"

#include <utility>

template <typename Handle, auto Release> class AviRef {
  public:
    AviRef() = default;
    // Takes over a reference the caller holds.
    explicit AviRef(Handle handle) noexcept : handle_(handle) {}
    AviRef(AviRef&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    AviRef& operator=(AviRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    AviRef(const AviRef&) = delete;
    AviRef& operator=(const AviRef&) = delete;
    ~AviRef() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Gives the reference to the caller.
    Handle release() { return std::exchange(handle_, nullptr); }
    void reset(Handle handle = nullptr) {
        if (handle_) Release(handle_);
        handle_ = handle;
    }
    // For the C calls that hand out a new reference through a pointer: drops the one held.
    Handle* out() {
        reset();
        return &handle_;
    }

  private:
    Handle handle_ = nullptr;
};

using StreamRef = AviRef<PAVISTREAM, AVIStreamRelease>;
using FileRef = AviRef<PAVIFILE, AVIFileRelease>;
