#pragma once

#include "base/VoxleTypes.h"

#include <QString>

// The built-in system prompts of the direct DashScope route.
namespace ChatPrompts {

QString polishSystemPrompt();
// "请把用户的语音内容翻译成" + languageName + the fixed anti-injection tail.
QString translationSystemPrompt(const QString &languageName);
// "中文", "英文", "日语": what the prompt names and what the backend receives as target_language.
QString translationLanguageName(TranslationTargetLanguage target);

} // namespace ChatPrompts
