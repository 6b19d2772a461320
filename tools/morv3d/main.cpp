#include <cstdio>

int main() {
    std::puts("morv3d " MORV3D_VERSION);
    return 0;
}
