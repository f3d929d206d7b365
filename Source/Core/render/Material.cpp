#include "render/Material.h"

#include <tinyxml2.h>

#include <iostream>
#include <cmath>
#include <sstream>

#include "engine/Debug.h"
#include "engine/File.h"
#include "engine/TextHelpers.h"
#include "engine/TextNumbers.h"
#include "render/Texbit.h"

namespace KestorEngine {

bool isFloat(const std::string& text) {
  std::istringstream stream(text);
  float value = 0.0f;
  stream >> std::noskipws >> value;
  return !stream.fail() && stream.eof();
}

Material::Material(std::string name) {
  const std::string path = File::Find("Materials", name + ".xml");
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  const bool read = document.LoadFile(path.c_str()) == tinyxml2::XML_SUCCESS;
  std::string shaderName = "Error";
  std::cout << "Loading" << path << "\n";

  const tinyxml2::XMLElement* material = read ? document.FirstChildElement("Material") : nullptr;
  if (!read) {
    std::string reason = document.ErrorName();
    if (document.ErrorLineNum() > 0) reason += " at line " + std::to_string(document.ErrorLineNum());
    Debug::Log(path + ": cannot read the material (" + reason + "), using the \"Error\" shader\n");
  } else if (material == nullptr) {
    Debug::Log(path + ": no \"Material\" element, using the \"Error\" shader\n");
  } else if (const char* attribute = material->Attribute("Shader")) {
    shaderName = attribute;
  }
  std::cout << shaderName << "\n";
  std::cout << "Uniforms?\n";
  ShaderResource = Resources<Shader>::Get(shaderName);
  std::cout << "Uniforms?\n";
  CopyDeclarations();

  const tinyxml2::XMLElement* settings =
      material != nullptr ? material->FirstChildElement("Settings") : nullptr;
  if (settings == nullptr) return;
  for (const tinyxml2::XMLAttribute* setting = settings->FirstAttribute(); setting != nullptr;
       setting = setting->Next()) {
    const std::string value = setting->Value();
    std::cout << value;
    std::cout << "NodeName" << setting->Name() << "\n";
    auto entry = Buffer.Uniforms.find(setting->Name());
    if (entry == Buffer.Uniforms.end() || value.empty()) continue;
    std::vector<std::string> parts = split(value);
    std::cout << parts.size() << "\n";
    for (const std::string& part : parts) std::cout << part << "\n";
    std::string problem;
    if (!ApplySetting(entry->second, value, problem)) {
      Debug::Log(path + ": line " + std::to_string(settings->GetLineNum()) + ": setting \"" +
                 setting->Name() + "\": " + problem + ", skipped\n");
    }
  }
}

Material::Material(Resource<Shader> shader) : ShaderResource(std::move(shader)) {
  CopyDeclarations();
}

void Material::CopyDeclarations() {
  Shader* shader = ShaderResource.Object();
  if (shader == nullptr) return;
  for (const auto& declaration : shader->Uniforms) {
    std::cout << shader->Filename << "\n";
    Buffer.Ingest(declaration.second.CopyPolite());
    std::cout << "Name:" << declaration.first << "\n";
    std::cout << "Type:" << static_cast<int>(declaration.second.Type) << "\n";
    std::cout << "Type2:" << static_cast<int>(Buffer.Uniforms[declaration.first].Type) << "\n";
  }
}

bool Material::ApplySetting(ShaderUniform& entry, const std::string& value, std::string& problem) {
  std::vector<std::string> parts = split(value);
  if (parts.size() == 1) {
    if (isFloat(parts[0])) {
      std::istringstream(parts[0]) >> entry.FloatValue;
    } else {
      entry.TextureResource = Resources<Texbit>::Get(parts[0]);
    }
    return true;
  }
  if (parts.size() < 2 || parts.size() > 4) return true;

  float numbers[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!TryParseFloat(parts[i], numbers[i]) || !std::isfinite(numbers[i])) {
      problem = "part " + std::to_string(i + 1) + " (\"" + parts[i] + "\") is not a finite number";
      return false;
    }
  }
  // The entry's type stays as declared: the value goes to the field that
  // matches its number of parts.
  if (parts.size() == 2) entry.Vector2Value = glm::vec2(numbers[0], numbers[1]);
  if (parts.size() == 3) entry.Vector3Value = glm::vec3(numbers[0], numbers[1], numbers[2]);
  if (parts.size() == 4) {
    entry.Vector4Value = glm::vec4(numbers[0], numbers[1], numbers[2], numbers[3]);
  }
  return true;
}

}  // namespace KestorEngine
