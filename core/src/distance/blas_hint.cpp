#include <atomic>
#include <cstdio>

#include "distance/distance.h"

namespace quarn {

namespace {

std::atomic<bool> blas_hint_flag{false};

constexpr char kHint[] =
    "quarn: brute-force search would be ~5x faster with BLAS. Install it with:\n"
    "  sudo apt install libopenblas-dev   # Debian/Ubuntu\n"
    "  sudo dnf install openblas-devel    # Fedora/RHEL\n"
    "  Then rebuild: pip install --force-reinstall quarn\n";

}  // namespace

void show_blas_hint_once() {
  if (blas_hint_flag.exchange(true)) return;
  std::fwrite(kHint, 1, sizeof(kHint) - 1, stderr);
  std::fflush(stderr);
}

bool blas_hint_shown() { return blas_hint_flag.load(); }

}  // namespace quarn
