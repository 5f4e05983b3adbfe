#include <atomic>
#include <cstdio>

#include "distance/distance.h"

namespace quarn {

namespace {

std::atomic<bool> blas_hint_flag{false};

// Written only by builds without BLAS, whose batched exhaustive scans it would speed up.
constexpr char kHint[] =
    "quarn: this build has no BLAS; batched exhaustive searches (search_many on collections under\n"
    "  10,000,000 floats) run faster when quarn is built with it. Install OpenBLAS with cblas.h:\n"
    "  sudo apt install libopenblas-dev   # Debian/Ubuntu\n"
    "  sudo dnf install openblas-devel    # Fedora/RHEL\n"
    "  Then rebuild quarn from source: pip install --force-reinstall --no-binary quarn quarn\n"
    "  (or, in a source checkout: pip install --force-reinstall .)\n";

}  // namespace

void show_blas_hint_once() {
  if (blas_hint_flag.exchange(true)) return;
  std::fwrite(kHint, 1, sizeof(kHint) - 1, stderr);
  std::fflush(stderr);
}

bool blas_hint_shown() { return blas_hint_flag.load(); }

std::string_view blas_hint_text() { return {kHint, sizeof(kHint) - 1}; }

}  // namespace quarn
