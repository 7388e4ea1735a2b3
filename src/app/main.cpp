#include "app/Entry.h"

int main(int argc, char **argv)
{
    return veltoMain(argc, argv);
}
