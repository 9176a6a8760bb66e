// syscall_filter_exec LIST PROGRAM [ARGUMENT...]
//
// Runs PROGRAM under a seccomp filter that allows exactly the system calls
// named in LIST (one name a line) and kills the whole process on any other
// call or on a call from a foreign architecture. That is what systemd does
// for a unit with SystemCallFilter= (an allow-list, no SystemCallErrorNumber=)
// and SystemCallArchitectures=native; it lets the daemon be tried under its
// unit's filter where systemd cannot start services. Names the kernel does
// not know are skipped, as systemd skips them.

#include <seccomp.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: syscall_filter_exec LIST PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    std::ifstream list(argv[1]);
    if (!list) {
        std::fprintf(stderr, "syscall_filter_exec: cannot read %s\n", argv[1]);
        return 2;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        std::fputs("syscall_filter_exec: seccomp_init failed\n", stderr);
        return 2;
    }
    int allowed = 0;
    std::string name;
    while (std::getline(list, name)) {
        if (name.empty()) continue;
        int number = seccomp_syscall_resolve_name(name.c_str());
        if (number == __NR_SCMP_ERROR) continue;
        if (seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 0) != 0) {
            std::fprintf(stderr, "syscall_filter_exec: cannot allow %s\n", name.c_str());
            return 2;
        }
        ++allowed;
    }
    // no_new_privs is set by seccomp_load (the library's default), as
    // NoNewPrivileges=yes does in the unit.
    if (int failed = seccomp_load(filter); failed != 0) {
        std::fprintf(stderr, "syscall_filter_exec: seccomp_load failed (%d)\n", failed);
        return 2;
    }
    seccomp_release(filter);
    std::fprintf(stderr, "syscall_filter_exec: %d system calls allowed\n", allowed);
    execv(argv[2], argv + 2);
    std::perror("syscall_filter_exec: execv");
    return 127;
}
