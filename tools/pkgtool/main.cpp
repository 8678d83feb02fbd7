// pkgtool: builds, inspects and signs package files.
#include <cstdio>
int main() {
    std::fprintf(stderr, "usage: pkgtool build|inspect|keygen ...\n");
    return 2;
}
