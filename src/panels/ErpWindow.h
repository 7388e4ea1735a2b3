#pragma once
// The "Ledgora ERP" window: the ERP connections this computer holds on the
// left, and the two ways to pair a client's ERP on the right (an approval
// link the client opens, or a code the client made in their ERP).
// Main thread only.
#include <QWidget>

class ErpWindow : public QWidget {
    Q_OBJECT
public:
    explicit ErpWindow(QWidget *parent = nullptr);
    ~ErpWindow() override;
};
