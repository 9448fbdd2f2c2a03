#include "Velmora/FrontEnd.h"
#include "Velmora/RunVelmora.h"

int main(int argc, char** argv) {
    return velmora::RunVelmora(argc, argv, velmora::BuiltInFrontEnds(), velmora::FrontEndModules());
}
