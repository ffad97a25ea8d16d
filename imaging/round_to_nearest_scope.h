// Floating-point work in round-to-nearest, whatever mode the caller's thread is in.
#pragma once

#include <cfenv>

namespace zav {

// Saves the thread's whole floating-point environment (rounding mode, exception flags and masks,
// on x86-64 both the x87 control word and MXCSR), switches to round-to-nearest, and puts the saved
// environment back on destruction, exactly as it was found.
class RoundToNearestScope {
  public:
    RoundToNearestScope() noexcept {
        saved_ = std::fegetenv(&env_) == 0;
        std::fesetround(FE_TONEAREST);
    }
    ~RoundToNearestScope() {
        if (saved_) {
            std::fesetenv(&env_);
        }
    }
    RoundToNearestScope(const RoundToNearestScope &) = delete;
    RoundToNearestScope &operator=(const RoundToNearestScope &) = delete;

  private:
    std::fenv_t env_{};
    bool saved_ = false;
};

// Keeps the compiler from computing with v before this point (for instance before the rounding
// mode was set): v is taken as changed here, behind a barrier no memory access crosses.
inline double OpaqueDouble(double v) noexcept {
#if defined(__GNUC__)
    asm volatile("" : "+m"(v) : : "memory");
#endif
    return v;
}

}  // namespace zav
