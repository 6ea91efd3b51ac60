#include "plugin/VelmocairProvider.h"

#include "device/Velmocair.h"

VelmocairProvider::~VelmocairProvider() = default;

ORBSPDevice* VelmocairProvider::create() const { return new Velmocair(); }
