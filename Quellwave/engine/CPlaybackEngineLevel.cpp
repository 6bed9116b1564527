// The engine's level and mute, through the level selector of the output device.
#include "CPlaybackEngine.h"

namespace engine {

HRESULT CPlaybackEngine::SetLevel(float level) {
    if (!levelSelector_)
        return E_FAIL;
    levelSelector_->SetRFPlaybackMute(false);
    if (level == currentLevel_.load())
        return S_OK;
    if (!levelSelector_->SetRFPlayBackLevelALL(level))
        return E_FAIL;
    currentLevel_ = level;
    return S_OK;
}

HRESULT CPlaybackEngine::GetLevel(float* level) {
    if (!levelSelector_)
        return E_FAIL;
    float louder = 0.0f;
    for (long channel = 0; channel < 2; ++channel) {
        if (levelSelector_->GetRFPlaybackLevel(channel) > louder)
            louder = levelSelector_->GetRFPlaybackLevel(channel);
    }
    currentLevel_ = louder;
    if (level)
        *level = louder;
    return S_OK;
}

bool CPlaybackEngine::SetMute(bool mute) {
    return levelSelector_ && levelSelector_->SetRFPlaybackMute(mute);
}

bool CPlaybackEngine::GetMute() {
    return levelSelector_ && levelSelector_->GetRFPlaybackMute();
}

} // namespace engine
