#include <span>

#include "process/startup.hpp"

int main(int argc, char** argv) {
    return vorn::runDaemon(std::span<const char* const>(argv + 1, argc > 0 ? argc - 1 : 0));
}
