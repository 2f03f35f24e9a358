#include "app/screens/LiveViewController.h"

LiveViewController::ChatLines& LiveViewController::trimmedBarrageList() {
    if (m_barrageDataSource.size() >= kBarrageCapacity)
        m_barrageDataSource.erase(m_barrageDataSource.begin());
    return m_barrageDataSource;
}

LiveViewController::ChatLines LiveViewController::barrageDataSource() {
    std::lock_guard lock(m_lock);
    return trimmedBarrageList();
}

void LiveViewController::setBarrageDataSource(ChatLines lines) {
    std::lock_guard lock(m_lock);
    m_barrageDataSource = std::move(lines);
}

void LiveViewController::addBarrageData(std::shared_ptr<ChatModel> line) {
    if (!line)
        return;
    std::lock_guard lock(m_lock);
    trimmedBarrageList().push_back(std::move(line));
}
