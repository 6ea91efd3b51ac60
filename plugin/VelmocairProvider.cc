#include "plugin/VelmocairProvider.h"

#include "device/Velmocair.h"

VelmocairProvider::~VelmocairProvider() = default;

VelmocairProvider::DevicePointer VelmocairProvider::create() const { return new Velmocair(); }
