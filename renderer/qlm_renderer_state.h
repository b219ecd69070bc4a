// The render state's snapshot classes: values of one state group each that
// a caller takes out of a renderer and puts back later. They belong to the
// caller.
#pragma once

#include "qlm_base_object.h"

class cPen : public cBase {};
class cFill : public cBase {};
class cShadow : public cBase {};
class cClipping : public cBase {};
class cTransformations : public cBase {};
class cMasterParameters : public cBase {};
class cBitmapParameters : public cBase {};
class cTextParameters : public cBase {};
class cState : public cBase {};
