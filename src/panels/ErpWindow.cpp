#include "panels/ErpWindow.h"

ErpWindow::ErpWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Ledgora ERP"));
    resize(880, 640);
}

ErpWindow::~ErpWindow() = default;
