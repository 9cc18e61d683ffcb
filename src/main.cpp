#include "Vortle.h"

int main(int argc, char** argv) {
    return VortleMain(argc, argv);
}
