#include "viewportmanager.h"

#include "chartapi.h"
#include "viewport.h"

ViewPortManager::ViewPortManager()
    : m_vpm(CViewPortManager_create())
{
}

ViewPortManager::~ViewPortManager()
{
    CViewPortManager_destroy(m_vpm);
}

double ViewPortManager::getViewPortLeft() const { return m_vpm->getViewPortLeft(); }
double ViewPortManager::getViewPortTop() const { return m_vpm->getViewPortTop(); }
double ViewPortManager::getViewPortWidth() const { return m_vpm->getViewPortWidth(); }
double ViewPortManager::getViewPortHeight() const { return m_vpm->getViewPortHeight(); }
void ViewPortManager::setViewPortLeft(double left) { m_vpm->setViewPortLeft(left); }
void ViewPortManager::setViewPortTop(double top) { m_vpm->setViewPortTop(top); }
void ViewPortManager::setViewPortWidth(double width) { m_vpm->setViewPortWidth(width); }
void ViewPortManager::setViewPortHeight(double height) { m_vpm->setViewPortHeight(height); }
void ViewPortManager::setZoomInWidthLimit(double limit) { m_vpm->setZoomInWidthLimit(limit); }
void ViewPortManager::setZoomOutWidthLimit(double limit) { m_vpm->setZoomOutWidthLimit(limit); }
void ViewPortManager::setZoomInHeightLimit(double limit) { m_vpm->setZoomInHeightLimit(limit); }
void ViewPortManager::setZoomOutHeightLimit(double limit) { m_vpm->setZoomOutHeightLimit(limit); }
