// TKVNCustomControl: a window control that shows one scene. It paints
// nothing of its own: it copies the scene's bitmap to its canvas.
#pragma once

#include "kvn_scene.h"
#include "ui_controls.h"

class TKVNCustomControl : public ui::TCustomControl {
 public:
  explicit TKVNCustomControl(ui::TComponent* owner);
  // A scene still shown by this control forgets it.
  ~TKVNCustomControl() override;

  // Shows the scene (not owned: whoever made it frees it). The scene is
  // told this control is its owner and is invalidated.
  void SetScene(TRenderingScene* scene);
  TRenderingScene* Scene() const { return mScene; }
  // The scene's bitmap at (0, 0); without a scene a red dashed rectangle
  // over the client area; nothing while the scene hands out no bitmap.
  void Paint() override;
  // The scene is invalidated at the new size; OnResize is not raised.
  intptr_t WmSize(int width, int height) override;

 private:
  TRenderingScene* mScene = nullptr;
};
