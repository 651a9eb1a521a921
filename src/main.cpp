#include "driver/startup.h"

int main(int argc, char** argv) {
    tolm_main(argc, argv);
}
