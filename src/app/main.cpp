#include "CQuillonApp.h"

int main(int argc, char** argv) {
    quillon::CQuillonApp app(argc, argv);
    return app.InitInstance();
}
