#include "Velmora/Main.h"
#include "Velmora/FrontEnd.h"

int main(int argc, char** argv) {
    return velmora::RunVelmora(argc, argv, velmora::BuiltInFrontEnds(), velmora::FrontEndModules());
}
