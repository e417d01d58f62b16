#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The main window is not built yet; the program starts and ends.
    return 0;
}
