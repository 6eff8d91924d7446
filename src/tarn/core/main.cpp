#include "startup.h"

int main(int argc, char **argv)
{
    return tarn_main(argc, argv);
}
