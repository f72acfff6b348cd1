#include "KTPanelOptions.h"

#include "ui_uiPanelOptions.h"

KTPanelOptions::KTPanelOptions(QWidget* parent)
    : QDialog(parent)
    , _ui(new Ui::uiPanelOptions)
{
    _ui->setupUi(this);
    setWindowFlags(Qt::CustomizeWindowHint);
    connect(_ui->pbtOk, &QPushButton::clicked, this, &KTPanelOptions::updateValues);
    connect(_ui->pbtCancel, &QPushButton::clicked, this, &KTPanelOptions::restoreValues);
    // Escape rejects the dialog; it must forget the edits as Cancel does.
    connect(this, &QDialog::rejected, _ui->pbtCancel, &QPushButton::click);
}

KTPanelOptions::~KTPanelOptions()
{
    delete _ui;
}

void KTPanelOptions::setSize(int rows, int columns)
{
    // The members take what the boxes show, so that what is saved and later
    // restored is what the operator saw (and stays within one digit).
    _ui->sbxRows->setValue(rows);
    _ui->sbxColumns->setValue(columns);
    _rows = _ui->sbxRows->value();
    _columns = _ui->sbxColumns->value();
}

int KTPanelOptions::rowCount() const
{
    return _rows;
}

int KTPanelOptions::columnCount() const
{
    return _columns;
}

void KTPanelOptions::updateValues()
{
    _rows = _ui->sbxRows->value();
    _columns = _ui->sbxColumns->value();
    // accept() rather than close(): closing a visible dialog rejects it, which
    // would run the Cancel path and make exec() report a cancellation.
    accept();
    emit valuesUpdated(rowCount(), columnCount());
}

void KTPanelOptions::restoreValues()
{
    _ui->sbxRows->setValue(_rows);
    _ui->sbxColumns->setValue(_columns);
    // On a visible dialog this rejects it, and rejected() comes back here once
    // more with the dialog hidden, where close() does nothing further.
    close();
}
