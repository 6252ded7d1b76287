#include "app/form_output_destination.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMessageBox>

#include "app/form_audio_graphics.h"
#include "app/recorder_settings.h"
#include "app/skin_look.h"
#include "controls/panel_fill.h"
#include "platform/registry/settings_store.h"

namespace velmar {

TFormOutputDestination::TFormOutputDestination(TFormAudioGraphics& Skin, QWidget* Parent)
    : QDialog(Parent) {
  setWindowTitle("Output Folder");
  setFixedSize(437, 252);
  UseDarkLook(this);
  auto* Back = new TMMPanelFill(this);
  Back->Bevel().SetBevelOuter(TBevelCut::bvNone);
  Back->SetBitmapList(&Skin.FBackGrounds);
  Back->SetBitmapIndex(1);
  Back->setGeometry(0, 0, 437, 252);
  auto* Inner = new TMMPanelFill(Back);
  Inner->SetBitmapList(&Skin.FBackGrounds);
  Inner->SetBitmapIndex(2);
  Inner->setGeometry(8, 8, 421, 198);

  dfsPath = new QLineEdit(Inner);
  dfsPath->setGeometry(8, 8, 289, 25);
  UseLimeOnBlack(dfsPath);
  pbCreateFolder = SkinButton(Inner, Skin.FButtons, 12, QRect(305, 8, 108, 25));
  pbCreateFolder->OnClick = [this](TObject*) { pbCreateFolderClick(); };

  // The folder tree: folders only, no drive list on this platform.
  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  FModel->setRootPath("/");
  lbSelectPath = new QTreeView(Inner);
  lbSelectPath->setModel(FModel);
  for (int Column = 1; Column < FModel->columnCount(); ++Column) lbSelectPath->hideColumn(Column);
  lbSelectPath->header()->hide();
  lbSelectPath->setGeometry(8, 40, 405, 150);
  UseLimeOnBlack(lbSelectPath);
  connect(lbSelectPath->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& Current) {
            if (Current.isValid())
              dfsPath->setText(QDir::toNativeSeparators(FModel->filePath(Current)));
          });

  pbOK = SkinButton(Back, Skin.FButtons, 0, QRect(97, 216, 108, 25));
  pbOK->setToolTip("Press this button if you want to save the changes.");
  pbOK->OnClick = [this](TObject*) {
    FOK = true;
    accept();
  };
  pbCancel = SkinButton(Back, Skin.FButtons, 1, QRect(209, 216, 108, 25));
  pbCancel->OnClick = [this](TObject*) {
    FOK = false;
    reject();
  };
  pbHelp = SkinButton(Back, Skin.FButtons, 2, QRect(321, 216, 108, 25));
  pbHelp->OnClick = [this](TObject*) {
    if (OnHelp) OnHelp();
  };
  SetFolder(QDir::currentPath());
}

QString TFormOutputDestination::TreeFolder() const {
  const QModelIndex Current = lbSelectPath->currentIndex();
  return Current.isValid() ? FModel->filePath(Current) : QDir::currentPath();
}

void TFormOutputDestination::SetFolder(const QString& Folder) {
  dfsPath->setText(Folder);
  // Moving the tree writes its folder into the field: keep the caller's text.
  // A folder the tree cannot show leaves it without a current folder, so that
  // showing the window keeps the text.
  const QModelIndex Index = FModel->index(Folder);
  const QSignalBlocker Quiet(lbSelectPath->selectionModel());
  lbSelectPath->setCurrentIndex(Index);
  if (Index.isValid()) lbSelectPath->scrollTo(Index);
}

bool TFormOutputDestination::Execute() {
  FOK = false;
  exec();
  return FOK;
}

void TFormOutputDestination::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (lbSelectPath->currentIndex().isValid())
    dfsPath->setText(QDir::toNativeSeparators(TreeFolder()));
}

void TFormOutputDestination::LoadPath() {
  dfsPath->setText(QString::fromStdString(
      ReadRegValue(kSettingsRoot, kSettingsKey, "Path", dfsPath->text().toStdString())));
}

bool TFormOutputDestination::SavePath() {
  return WriteRegValue(kSettingsRoot, kSettingsKey, "Path", dfsPath->text().toStdString());
}

QString TFormOutputDestination::ExpandHome(const QString& Folder) {
  if (Folder == "~" || Folder.startsWith("~/")) return QDir::homePath() + Folder.mid(1);
  return Folder;
}

void TFormOutputDestination::pbCreateFolderClick() {
  const QString Typed = ExpandHome(dfsPath->text());
  if (Typed.isEmpty() || !QDir().mkpath(Typed)) {
    QMessageBox::critical(this, windowTitle(), "Unable to create the patj \"" + Typed + "\".");
    return;
  }
  SetFolder(QDir(Typed).absolutePath());
}

}  // namespace velmar
