#include "app/shell/CommandLine.h"

namespace tavrine {

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine cl;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            cl.action = Action::help;
            return cl;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            cl.action = Action::version;
            return cl;
        }
        if (arg == QLatin1String("--camera") || arg.startsWith(QLatin1String("--camera="))) {
            QString value;
            if (arg.contains(QLatin1Char('='))) {
                value = arg.section(QLatin1Char('='), 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                cl.action = Action::error;
                cl.error = QStringLiteral(
                    "l\u2019option --camera attend une source (/dev/videoN, un fichier vidéo ou demo)");
                return cl;
            }
            if (value.isEmpty()) {
                cl.action = Action::error;
                cl.error = QStringLiteral(
                    "l\u2019option --camera attend une source (/dev/videoN, un fichier vidéo ou demo)");
                return cl;
            }
            cl.camera = value;
            continue;
        }
        cl.action = Action::error;
        cl.error = QStringLiteral("option inconnue\u00a0: %1").arg(arg);
        return cl;
    }
    return cl;
}

QString CommandLine::helpText() {
    return QStringLiteral(
        "Utilisation\u00a0: tavrine [--camera SOURCE]\n"
        "\n"
        "Tavrine protège votre écran des regards indiscrets\u00a0: tant qu\u2019il est actif, il observe la "
        "webcam\n"
        "et pose sur chaque écran un filtre de confidentialité qui se renforce quand vous détournez le\n"
        "regard ou quand quelqu\u2019un d\u2019autre regarde. Il vit dans la zone de notification "
        "(l\u2019œil)\u202f;\n"
        "Super+Maj+C l\u2019active ou le désactive.\n"
        "\n"
        "Options\u00a0:\n"
        "  --camera SOURCE   d\u2019où viennent les images\u00a0: /dev/videoN, un fichier vidéo (lu en "
        "boucle)\n"
        "                    ou «\u00a0demo\u00a0» pour la séquence de démonstration intégrée\n"
        "                    (par défaut\u00a0: la webcam intégrée, sinon la première trouvée)\n"
        "  -h, --help        affiche cette aide et quitte\n"
        "  -v, --version     affiche la version et quitte\n"
        "\n"
        "Une seule instance tourne par session\u00a0: relancer tavrine ouvre le panneau de celle qui "
        "tourne.\n"
        "Réglages\u00a0: $XDG_CONFIG_HOME/tavrine/tavrine.conf (par défaut "
        "~/.config/tavrine/tavrine.conf).\n");
}

QString CommandLine::versionText() {
#ifdef TAVRINE_VERSION
    return QStringLiteral("Tavrine " TAVRINE_VERSION "\n");
#else
    return QStringLiteral("Tavrine\n");
#endif
}

} // namespace tavrine
