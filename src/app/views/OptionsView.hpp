#pragma once
// Between dropping footage and cutting it: which footage and how far its analysis is, the
// project's name and script, the picture of the cut, how much and how tight to cut, what the
// package holds, and Cut It. Every control writes straight to the job model.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/CutPreviewSection.hpp"
#include "app/views/FormControls.hpp"
#include "app/views/OutputOptions.hpp"
#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class BatchStrip;

class OptionsView : public ScreenView {
 public:
  explicit OptionsView(AppServices services, QWidget* parent = nullptr);
  void refresh() override;

 private:
  QWidget* buildForm();
  QLayout* buildScriptRow();
  void refreshHeader();
  void refreshScriptRow();
  void pasteScript();
  void playOrStop();
  void undoOrRedo(bool redo);

  BatchStrip* batchStrip_;
  QPushButton* applyToAll_;
  QPushButton* cut_;
  QLabel* fileName_;
  QLabel* statusIcon_;
  QLabel* status_;
  QPushButton* stopLook_;
  QLineEdit* projectName_;
  QLabel* scriptText_;
  QPushButton* addScript_;
  QPushButton* pasteScript_;
  QPushButton* removeScript_;
  QPushButton* undoRemove_;
  CutPreviewSection* preview_;
  Segmented* thoroughness_;
  QLabel* thoroughnessText_;
  Switch* fillers_;
  QLabel* shadingNote_;
  Segmented* tightness_;
  QLabel* tightnessText_;
  OutputOptions* output_;
  // The last script taken from the paste sheet, trimmed: not offered again.
  QString lastAdoptedScript_;
};

}  // namespace kestrane::app
