#include "app/TervalaproApp.h"

int main(int argc, char** argv)
{
    return CTervalaprouiApp::Run(argc, argv);
}
