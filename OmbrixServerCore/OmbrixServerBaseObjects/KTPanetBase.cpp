#include "KTPanetBase.h"

KTPanetBase::KTPanetBase(QWidget* parent)
    : QWidget(parent)
{
}
