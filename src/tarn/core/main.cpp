#include "media_callctl.h"
#include "startup.h"

int main(int argc, char **argv)
{
    media_install();
    return tarn_main(argc, argv);
}
