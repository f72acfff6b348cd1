#include "EndPage.h"

EndPage::EndPage(QWidget* parent)
    : QWizardPage(parent)
{
    setTitle(tr("Felicidades !"));
    setSubTitle(tr("\nHa terminado de configurar su instacia de Ombrix Server con éxito.\n\nHaga click en Finalizar "
                   "para guardar los cambios."));
}
