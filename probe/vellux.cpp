// Vellux: does this processor execute the instruction-set extension named on
// the command line? It runs one instruction of it; when that works it leaves an
// empty marker file "<word>.tmp" in the current folder and exits with 1, and
// otherwise exits with 0. The command line is exactly one word of the table,
// in any case; anything else selects nothing.

#include <csetjmp>
#include <csignal>

#include <fcntl.h>

namespace {

enum class Extension { None, Sse, Sse2, Amd3dNow, Mmx };

struct Probe {
    const char* word;
    Extension extension;
    const char* marker;
};

const Probe probes[] = {
    {"sse", Extension::Sse, "sse.tmp"},
    {"sse2", Extension::Sse2, "sse2.tmp"},
    {"3dnow", Extension::Amd3dNow, "3dnow.tmp"},
    {"mmx", Extension::Mmx, "mmx.tmp"},
};

bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

sigjmp_buf guard;

void Escape(int) { siglongjmp(guard, 1); }

// Runs the probe instruction. Returns only when it executed.
void Execute(Extension extension) {
#if defined(__x86_64__) || defined(__i386__)
    switch (extension) {
        case Extension::Sse: asm volatile("xorps %%xmm0, %%xmm0" ::: "xmm0"); break;
        case Extension::Sse2: asm volatile("xorpd %%xmm0, %%xmm0" ::: "xmm0"); break;
        // EMMS after the MMX-register probes leaves the floating-point unit usable.
        case Extension::Amd3dNow: asm volatile("pfrcp %%mm0, %%mm0\n\temms" ::: "mm0", "st"); break;
        case Extension::Mmx: asm volatile("pxor %%mm0, %%mm0\n\temms" ::: "mm0", "st"); break;
        case Extension::None: break;
    }
#else
    // No x86 instruction runs here: every probe fails as on a processor without it.
    (void)extension;
    raise(SIGILL);
#endif
}

// True when the instruction ran. Any fault during it (an invalid opcode, or
// anything else) counts as no support.
bool Supported(Extension extension) {
    const int faults[] = {SIGILL, SIGSEGV, SIGBUS, SIGFPE};
    struct sigaction escape = {};
    escape.sa_handler = Escape;
    sigemptyset(&escape.sa_mask);
    for (int fault : faults) sigaction(fault, &escape, nullptr);
    // Saving the signal mask lets the jump back unblock the signal it escaped from.
    if (sigsetjmp(guard, 1) != 0) return false;
    Execute(extension);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 0;
    const Probe* chosen = nullptr;
    for (const Probe& probe : probes) {
        if (EqualNoCase(argv[1], probe.word)) chosen = &probe;
    }
    if (!chosen || !Supported(chosen->extension)) return 0;
    // Create-always: an existing marker is truncated. The descriptor stays open
    // until the process ends, and whether the file came to be doesn't change
    // the answer.
    open(chosen->marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return 1;
}
