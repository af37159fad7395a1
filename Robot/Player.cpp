#include "Player.h"

#include "Game.h"
#include "Log.h"

Player::Player() : ProcessIO(true, true) {}

Player::~Player() = default;

void Player::Init(uint32_t playerId) {
    if (m_strName.empty()) m_strName = "player" + std::to_string(playerId + 1);
    m_iPlayerId = static_cast<int32_t>(playerId);
}

void Player::PlayerCrash(int status) {
    LOG_ERR("Player:%d crashed.\n", m_iPlayerId + 1);
    Player& other = Game::GetInstance()->GetPlayer(m_iPlayerId ^ 1);
    if (other.m_iStatus <= 3 && other.m_iMoney < 1000000) other.m_iMoney = 1000000;
    m_iStatus = status;
    m_iMoney = 0;
}

std::string Player::GetStatusText() const {
    if (m_iStatus == 4) return "Output format error.";
    if (m_iStatus == 5) return "Runtime error.";
    return "Successful";
}

void Player::WriteData() {}

void Player::StepRobots() {}

void Player::HandleRead(const char*, uint32_t) {}

void Player::HandleIOError() {
    LOG_ERR("Handle IO Error\n");
    PlayerCrash(5);
}
