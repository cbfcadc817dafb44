#include <QApplication>
#include <QDialog>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QDialog window;
    window.setWindowTitle("Dartflux v.0.2");
    window.resize(640, 400);
    window.show();
    return application.exec();
}
