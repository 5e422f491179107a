#include "app/console/clientapp.h"

int main(int argc, char** argv)
{
    app::ClientApp application;
    return application.run(argc, argv);
}
