#include "IntroPage.h"

#include <QLabel>
#include <QVBoxLayout>

IntroPage::IntroPage(QWidget* parent)
    : QWizardPage(parent)
{
    setTitle(tr("Introducción"));
    auto* text = new QLabel(tr("Bienvenido a Ombrix Server.\n\nEste asistente le ayudará a configurar su servidor: "
                               "los datos de su empresa, la base de datos que utilizará, el puerto en que atenderá "
                               "a los clientes y el usuario administrador.\n\nSi alguna vez desea ejecutar el "
                               "tutorial nuevamente, borre el archivo de configuracion OmbrixServer.cfg."),
                            this);
    text->setWordWrap(true);
    (new QVBoxLayout(this))->addWidget(text);
}
